package velinterop;

/** Progress of a command, as the clif service returns it (a plain bean for Axis's bean serialiser). */
public class ClifStatus implements java.io.Serializable {
    private boolean complete;
    private byte[] err;
    private boolean errOpen;
    private byte[] out;
    private boolean outOpen;
    private long pollPeriod;
    private int returnCode;
    private String sessionId;

    public boolean isComplete() { return complete; }
    public void setComplete(boolean complete) { this.complete = complete; }
    public byte[] getErr() { return err; }
    public void setErr(byte[] err) { this.err = err; }
    public boolean isErrOpen() { return errOpen; }
    public void setErrOpen(boolean errOpen) { this.errOpen = errOpen; }
    public byte[] getOut() { return out; }
    public void setOut(byte[] out) { this.out = out; }
    public boolean isOutOpen() { return outOpen; }
    public void setOutOpen(boolean outOpen) { this.outOpen = outOpen; }
    public long getPollPeriod() { return pollPeriod; }
    public void setPollPeriod(long pollPeriod) { this.pollPeriod = pollPeriod; }
    public int getReturnCode() { return returnCode; }
    public void setReturnCode(int returnCode) { this.returnCode = returnCode; }
    public String getSessionId() { return sessionId; }
    public void setSessionId(String sessionId) { this.sessionId = sessionId; }
}
