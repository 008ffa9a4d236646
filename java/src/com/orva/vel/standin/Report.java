package com.orva.vel.standin;

import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.List;

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

    /** Runs a stand-in command; "--throw" and "--exit=N" among the arguments ask for a failure. */
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
        System.out.flush();
        for (String arg : args) {
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
