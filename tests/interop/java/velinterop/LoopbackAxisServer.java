package velinterop;

import java.net.InetAddress;
import java.net.ServerSocket;
import org.apache.axis.configuration.FileProvider;
import org.apache.axis.transport.http.SimpleAxisServer;

/**
 * Axis's stand-alone HTTP server on a free port of the loopback address only (Axis's own main
 * listens on every interface). Arguments: the directory that holds "server-config.wsdd".
 * Prints "listening on http://127.0.0.1:PORT" once it accepts connections; ends when its
 * standard input closes, so that it never outlives the test that started it.
 */
public final class LoopbackAxisServer {
    public static void main(String[] args) throws Exception {
        SimpleAxisServer server = new SimpleAxisServer();
        server.setMyConfig(new FileProvider(args[0], "server-config.wsdd"));
        ServerSocket socket = new ServerSocket(0, 50, InetAddress.getLoopbackAddress());
        server.setServerSocket(socket);
        server.start(true);
        System.out.println("listening on http://127.0.0.1:" + socket.getLocalPort());
        System.out.flush();
        while (System.in.read() != -1) {
            // nothing: only the end of the input matters
        }
        server.stop();
        System.exit(0);
    }
}
