package velinterop;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * State shared by the two services of one server: the working directory (system property
 * "velinterop.dir") with "users.txt" (user:password lines), "script.txt" (the replies of the next
 * command, one step a line), "cmsconfig/" (the CMS configuration directory with ".rconfig.server")
 * and "record/" (one file per call received), the call counter and the running sessions.
 */
final class InteropState {
    private static final InteropState s_instance = new InteropState();

    private final File myDir = new File(System.getProperty("velinterop.dir", "."));
    private final AtomicInteger myCalls = new AtomicInteger();
    private final AtomicInteger mySessions = new AtomicInteger();
    private final Map<String, Session> myRunning = new HashMap<>();

    static InteropState get() {
        return s_instance;
    }

    void record(CallRecord record) throws IOException {
        File dir = new File(myDir, "record");
        dir.mkdirs();
        record.save(dir, myCalls.incrementAndGet());
    }

    String password(String user) throws IOException {
        for (String line : readLines("users.txt")) {
            int colon = line.indexOf(':');
            if (colon > 0 && line.substring(0, colon).equals(user)) {
                return line.substring(colon + 1);
            }
        }
        return null;
    }

    File cmsConfigDir() {
        return new File(myDir, "cmsconfig");
    }

    /**
     * A new session that answers with the steps of the current script; the session identifier
     * that the first step names, if any, becomes the session's own.
     */
    synchronized Session startSession() throws IOException {
        List<ScriptStep> steps = new ArrayList<>();
        for (String line : readLines("script.txt")) {
            if (!line.trim().isEmpty()) {
                steps.add(new ScriptStep(line));
            }
        }
        if (steps.isEmpty()) {
            steps.add(new ScriptStep("complete=true"));
        }
        String id = steps.get(0).scriptedSessionId();
        Session session = new Session(id != null ? id : "session-" + mySessions.incrementAndGet(), steps);
        myRunning.put(session.id(), session);
        return session;
    }

    synchronized Session session(String id) {
        return myRunning.get(id);
    }

    private List<String> readLines(String name) throws IOException {
        File file = new File(myDir, name);
        if (!file.exists()) {
            return new ArrayList<>();
        }
        return Files.readAllLines(file.toPath(), StandardCharsets.UTF_8);
    }

    /** One command: its identifier and the steps still to answer with (the last one repeats). */
    static final class Session {
        private final String myId;
        private final List<ScriptStep> mySteps;
        private int myNext;

        Session(String id, List<ScriptStep> steps) {
            myId = id;
            mySteps = steps;
        }

        String id() {
            return myId;
        }

        synchronized ScriptStep next(boolean inputOpen) {
            ScriptStep step = mySteps.get(Math.min(myNext, mySteps.size() - 1));
            if (!(inputOpen && step.holdsWhileInputOpen())) {
                myNext++;
            }
            return step;
        }
    }
}
