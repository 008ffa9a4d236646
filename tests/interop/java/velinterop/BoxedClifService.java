package velinterop;

import java.io.IOException;
import java.util.HashMap;

/** The clif service answering with BoxedClifStatus records; otherwise the same as ClifService. */
public class BoxedClifService {
    private final ClifService myService = new ClifService();

    public BoxedClifStatus invoke(String in0, String in1, HashMap in2, String[] in3) throws IOException {
        return BoxedClifStatus.of(myService.invoke(in0, in1, in2, in3));
    }

    public BoxedClifStatus status(String in0, String in1, HashMap in2, byte[] in3, boolean in4) throws IOException {
        return BoxedClifStatus.of(myService.status(in0, in1, in2, in3, in4));
    }
}
