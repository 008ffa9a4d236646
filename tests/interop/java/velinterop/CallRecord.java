package velinterop;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.Map;
import java.util.TreeMap;

/**
 * What one call received, written as "name=value" lines to a numbered file in the record
 * directory. Strings and bytes are written in hex (strings as their UTF-8 bytes) so that every
 * character survives; "null" stands for a null value.
 */
final class CallRecord {
    private final StringBuilder myText = new StringBuilder();

    CallRecord(String operation) {
        line("op", operation);
    }

    CallRecord string(String name, String value) {
        return line(name, value == null ? "null" : hex(value.getBytes(StandardCharsets.UTF_8)));
    }

    CallRecord bytes(String name, byte[] value) {
        return line(name, value == null ? "null" : hex(value));
    }

    CallRecord flag(String name, boolean value) {
        return line(name, Boolean.toString(value));
    }

    /** The items of a map, by key order, as "key:value" pairs of hex (the map keeps no order). */
    CallRecord map(String name, Map<?, ?> value) {
        if (value == null) {
            return line(name, "null");
        }
        line(name + ".class", value.getClass().getName());
        TreeMap<String, String> sorted = new TreeMap<>();
        for (Map.Entry<?, ?> entry : value.entrySet()) {
            sorted.put(text(entry.getKey()), text(entry.getValue()));
        }
        line(name + ".count", Integer.toString(value.size()));
        for (Map.Entry<String, String> entry : sorted.entrySet()) {
            line(name + ".item", entry.getKey() + ":" + entry.getValue());
        }
        return this;
    }

    CallRecord array(String name, String[] value) {
        if (value == null) {
            return line(name, "null");
        }
        line(name + ".count", Integer.toString(value.length));
        for (String item : value) {
            string(name + ".item", item);
        }
        return this;
    }

    /** Written to a temporary name first, so that a reader never sees half a record. */
    void save(File dir, int number) throws IOException {
        File target = new File(dir, String.format("call-%04d.txt", number));
        File temp = new File(dir, target.getName() + ".tmp");
        try (FileOutputStream out = new FileOutputStream(temp)) {
            out.write(myText.toString().getBytes(StandardCharsets.US_ASCII));
        }
        if (!temp.renameTo(target)) {
            throw new IOException("cannot rename " + temp);
        }
    }

    static String hex(byte[] data) {
        StringBuilder text = new StringBuilder();
        for (byte b : data) {
            text.append(String.format("%02x", b & 0xff));
        }
        return text.toString();
    }

    static byte[] unhex(String text) {
        byte[] data = new byte[text.length() / 2];
        for (int i = 0; i < data.length; i++) {
            data[i] = (byte) Integer.parseInt(text.substring(2 * i, 2 * i + 2), 16);
        }
        return data;
    }

    private static String text(Object value) {
        if (value == null) {
            return "null";
        }
        // A key or value that is not a string shows up with its class, so a test sees the mismatch.
        String prefix = value instanceof String ? "" : "!" + value.getClass().getName() + "!";
        return prefix + hex(value.toString().getBytes(StandardCharsets.UTF_8));
    }

    private CallRecord line(String name, String value) {
        myText.append(name).append('=').append(value).append('\n');
        return this;
    }
}
