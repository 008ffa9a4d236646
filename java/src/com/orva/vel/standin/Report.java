package com.orva.vel.standin;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.List;
import java.util.TreeSet;

/**
 * Stand-in for the product's command classes: prints what the launcher handed over,
 * so that a test can see it on standard output.
 */
public final class Report {
    private static final String[] PROPERTIES = {
        "vel.display", "vel.browser", "VEL_BASE_DIR", "networkaddress.cache.ttl",
        "java.class.path", "java.home", "java.library.path", "java.security.policy",
        "vel.codeBase", "java.protocol.handler.pkgs", "sun.rmi.dgc.server.gcInterval",
        "sun.rmi.dgc.client.gcInterval", "FOREGROUND", "vel.path",
    };

    private Report() {
    }

    /**
     * Runs a stand-in command; "--throw" and "--exit=N" among the arguments ask for a failure,
     * "--read-stdin" keeps it running until its standard input ends.
     */
    public static void command(String className, String[] args) {
        System.out.println("main " + className);
        System.out.println("argc=" + args.length);
        for (int i = 0; i < args.length; i++) {
            System.out.println("arg[" + i + "]=" + escape(args[i]));
        }
        for (String name : PROPERTIES) {
            String value = System.getProperty(name);
            System.out.println("property " + name + (value == null ? " unset" : "=" + value));
        }
        System.out.println("display=" + (System.getenv("DISPLAY") == null ? "unset" : System.getenv("DISPLAY")));
        System.out.println("ids " + ids());
        System.out.println("gids " + gids());
        System.out.println("caps " + threadCapabilities());
        System.out.println("procOwner " + procOwner());
        System.out.flush();
        for (String arg : args) {
            if (arg.equals("--read-stdin")) {
                readToEnd();
            }
            if (arg.equals("--throw")) {
                throw new IllegalStateException("stand-in failure requested");
            }
            if (arg.startsWith("--exit=")) {
                System.exit(Integer.parseInt(arg.substring(7)));
            }
        }
    }

    /** Real, effective, saved user IDs and the file-creation mask of this process. */
    public static String ids() {
        String uid = "?";
        String umask = "?";
        try {
            List<String> lines = Files.readAllLines(Paths.get("/proc/self/status"));
            for (String line : lines) {
                String[] parts = line.trim().split("\\s+");
                if (parts[0].equals("Uid:")) {
                    uid = parts[1] + "," + parts[2] + "," + parts[3];
                } else if (parts[0].equals("Umask:")) {
                    umask = parts[1];
                }
            }
        } catch (Exception e) {
            uid = "unreadable";
        }
        return "uid=" + uid + " umask=" + umask;
    }

    /**
     * The user ID that owns /proc/self/status: the process's effective user ID while it is dumpable, 0 once
     * it is not (then the caller may neither trace it nor read its memory).
     */
    public static String procOwner() {
        try {
            return String.valueOf(Files.getAttribute(Paths.get("/proc/self/status"), "unix:uid"));
        } catch (Exception e) {
            return "unreadable";
        }
    }

    /** Real, effective and saved group IDs of this process. */
    public static String gids() {
        return statusField("/proc/self/status", "Gid:", 3);
    }

    /** The first values of a line of a status file, separated by ",". */
    private static String statusField(String statusFile, String field, int count) {
        try {
            for (String line : Files.readAllLines(Paths.get(statusFile))) {
                String[] parts = line.trim().split("\\s+");
                if (parts[0].equals(field)) {
                    StringBuilder values = new StringBuilder();
                    for (int i = 1; i <= count && i < parts.length; i++) {
                        values.append(i > 1 ? "," : "").append(parts[i]);
                    }
                    return values.toString();
                }
            }
        } catch (IOException e) {
            return "unreadable";
        }
        return "missing";
    }

    /**
     * The permitted, effective, inheritable and ambient capability sets of every thread of the
     * process, as "threads=N" and the distinct sets found ("prm/eff/inh/amb", ";" between).
     */
    public static String threadCapabilities() {
        File[] tasks = new File("/proc/self/task").listFiles();
        if (tasks == null) {
            return "unreadable";
        }
        TreeSet<String> sets = new TreeSet<>();
        int threads = 0;
        for (File task : tasks) {
            String status = task.getPath() + "/status";
            String prm = statusField(status, "CapPrm:", 1);
            if (prm.equals("unreadable")) {
                continue;   // the thread has ended meanwhile
            }
            threads++;
            sets.add(prm + "/" + statusField(status, "CapEff:", 1) + "/" + statusField(status, "CapInh:", 1)
                     + "/" + statusField(status, "CapAmb:", 1));
        }
        return "threads=" + threads + " " + String.join(";", sets);
    }

    private static void readToEnd() {
        try {
            byte[] buffer = new byte[4096];
            while (System.in.read(buffer) >= 0) {
                // discard
            }
        } catch (IOException e) {
            System.out.println("stdin unreadable");
        }
    }

    /** Non-ASCII characters as \\uXXXX, so the output does not depend on the output encoding. */
    private static String escape(String text) {
        StringBuilder out = new StringBuilder();
        for (char c : text.toCharArray()) {
            if (c >= 0x20 && c < 0x7f) {
                out.append(c);
            } else {
                out.append(String.format("\\u%04x", (int) c));
            }
        }
        return out.toString();
    }
}
