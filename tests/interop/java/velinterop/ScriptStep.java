package velinterop;

import java.rmi.RemoteException;
import java.util.HashMap;
import java.util.Map;
import javax.xml.namespace.QName;
import org.apache.axis.AxisFault;
import org.apache.axis.Constants;

/**
 * One scripted reply of the clif service: a line of "name=value" words.
 *
 *   complete, errOpen, outOpen   true or false (default false)
 *   out, err                     bytes in hex; "-" sends null (default null); out=echo returns
 *                                the input bytes of the status call
 *   pollPeriod, returnCode       numbers (default 0)
 *   sessionId                    text; "-" sends null (default: the session's own identifier)
 *   hold=input                   repeat this reply while the client's input is still open
 *   fault=CODE faultstring=HEX   answer with a SOAP fault of that code (in the envelope
 *                                namespace); fault=exception throws a plain Java exception
 */
final class ScriptStep {
    private final Map<String, String> myWords = new HashMap<>();

    ScriptStep(String line) {
        for (String word : line.trim().split("\\s+")) {
            int equals = word.indexOf('=');
            if (equals > 0) {
                myWords.put(word.substring(0, equals), word.substring(equals + 1));
            }
        }
    }

    /** The identifier this step sends, when it names one (null also for "-"). */
    String scriptedSessionId() {
        String id = myWords.get("sessionId");
        return id == null || id.equals("-") ? null : id;
    }

    boolean holdsWhileInputOpen() {
        return "input".equals(myWords.get("hold"));
    }

    /** The status to send, or the fault this step stands for. */
    ClifStatus reply(String sessionId, byte[] input) throws RemoteException {
        String fault = myWords.get("fault");
        if (fault != null) {
            String text = new String(CallRecord.unhex(myWords.getOrDefault("faultstring", "")),
                                     java.nio.charset.StandardCharsets.UTF_8);
            if (fault.equals("exception")) {
                throw new RemoteException(text);
            }
            throw new AxisFault(new QName(Constants.URI_SOAP11_ENV, fault), text, null, null);
        }
        ClifStatus status = new ClifStatus();
        status.setComplete(flag("complete"));
        status.setErrOpen(flag("errOpen"));
        status.setOutOpen(flag("outOpen"));
        status.setErr(bytes("err", input));
        status.setOut(bytes("out", input));
        status.setPollPeriod(Long.parseLong(myWords.getOrDefault("pollPeriod", "0")));
        status.setReturnCode(Integer.parseInt(myWords.getOrDefault("returnCode", "0")));
        String scriptedId = myWords.get("sessionId");
        status.setSessionId(scriptedId == null ? sessionId : scriptedId.equals("-") ? null : scriptedId);
        return status;
    }

    private boolean flag(String name) {
        return Boolean.parseBoolean(myWords.get(name));
    }

    private byte[] bytes(String name, byte[] input) {
        String value = myWords.get(name);
        if (value == null || value.equals("-")) {
            return null;
        }
        if (value.equals("echo")) {
            return input == null ? new byte[0] : input;
        }
        return CallRecord.unhex(value);
    }
}
