package velinterop;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.util.Arrays;
import javax.xml.namespace.QName;
import org.apache.axis.AxisFault;
import org.apache.axis.Constants;

/** The logon service: tokens for users of "users.txt" and for the holder of the CMS's key. */
public class LogonService {
    public String logon(String username, String password) throws IOException {
        InteropState state = InteropState.get();
        state.record(new CallRecord("logon").string("username", username).string("password", password));
        String expected = state.password(username);
        if (expected == null || !expected.equals(password)) {
            throw refused();
        }
        return "token-" + username;
    }

    public String logonAsRoot(byte[] cmsPrivateKeyBytes, String username) throws IOException {
        InteropState state = InteropState.get();
        state.record(new CallRecord("logonAsRoot").bytes("cmsPrivateKeyBytes", cmsPrivateKeyBytes)
                                                  .string("username", username));
        File key = new File(state.cmsConfigDir(), ".rconfig.server");
        if (cmsPrivateKeyBytes == null || !Arrays.equals(Files.readAllBytes(key.toPath()), cmsPrivateKeyBytes)) {
            throw refused();
        }
        return "roottoken-" + username;
    }

    public String getCMSConfigPath() throws IOException {
        InteropState state = InteropState.get();
        state.record(new CallRecord("getCMSConfigPath"));
        return state.cmsConfigDir().getAbsolutePath();
    }

    private static AxisFault refused() {
        return new AxisFault(new QName(Constants.URI_SOAP11_ENV, "Server"), "Logon refused", null, null);
    }
}
