package velinterop;

import java.io.IOException;
import java.util.HashMap;
import javax.xml.namespace.QName;
import org.apache.axis.AxisFault;
import org.apache.axis.Constants;

/** The clif service: starts a scripted session on invoke and answers status calls from it. */
public class ClifService {
    public ClifStatus invoke(String in0, String in1, HashMap in2, String[] in3) throws IOException {
        InteropState state = InteropState.get();
        state.record(new CallRecord("invoke").string("in0", in0).string("in1", in1).map("in2", in2).array("in3", in3));
        checkToken(in0);
        InteropState.Session session = state.startSession();
        return session.next(true).reply(session.id(), null);
    }

    public ClifStatus status(String in0, String in1, HashMap in2, byte[] in3, boolean in4) throws IOException {
        InteropState state = InteropState.get();
        state.record(new CallRecord("status").string("in0", in0).string("in1", in1).map("in2", in2)
                                             .bytes("in3", in3).flag("in4", in4));
        checkToken(in0);
        InteropState.Session session = state.session(in1);
        if (session == null) {
            throw new AxisFault(new QName(Constants.URI_SOAP11_ENV, "Server"), "Unknown session " + in1, null, null);
        }
        return session.next(in4).reply(session.id(), in3);
    }

    private static void checkToken(String token) throws AxisFault {
        if (token == null || !(token.startsWith("token-") || token.startsWith("roottoken-"))) {
            throw new AxisFault(new QName(Constants.URI_SOAP11_ENV, "Server"), "Not logged on", null, null);
        }
    }
}
