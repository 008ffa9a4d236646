package velinterop;

/**
 * The status record with wrapper types for its flags and numbers, as a server may declare it:
 * Axis then types those fields in SOAP encoding (SOAP-ENC:boolean, SOAP-ENC:long, SOAP-ENC:int).
 */
public class BoxedClifStatus implements java.io.Serializable {
    private Boolean complete;
    private byte[] err;
    private Boolean errOpen;
    private byte[] out;
    private Boolean outOpen;
    private Long pollPeriod;
    private Integer returnCode;
    private String sessionId;

    static BoxedClifStatus of(ClifStatus status) {
        BoxedClifStatus boxed = new BoxedClifStatus();
        boxed.complete = status.isComplete();
        boxed.err = status.getErr();
        boxed.errOpen = status.isErrOpen();
        boxed.out = status.getOut();
        boxed.outOpen = status.isOutOpen();
        boxed.pollPeriod = status.getPollPeriod();
        boxed.returnCode = status.getReturnCode();
        boxed.sessionId = status.getSessionId();
        return boxed;
    }

    public Boolean getComplete() { return complete; }
    public void setComplete(Boolean complete) { this.complete = complete; }
    public byte[] getErr() { return err; }
    public void setErr(byte[] err) { this.err = err; }
    public Boolean getErrOpen() { return errOpen; }
    public void setErrOpen(Boolean errOpen) { this.errOpen = errOpen; }
    public byte[] getOut() { return out; }
    public void setOut(byte[] out) { this.out = out; }
    public Boolean getOutOpen() { return outOpen; }
    public void setOutOpen(Boolean outOpen) { this.outOpen = outOpen; }
    public Long getPollPeriod() { return pollPeriod; }
    public void setPollPeriod(Long pollPeriod) { this.pollPeriod = pollPeriod; }
    public Integer getReturnCode() { return returnCode; }
    public void setReturnCode(Integer returnCode) { this.returnCode = returnCode; }
    public String getSessionId() { return sessionId; }
    public void setSessionId(String sessionId) { this.sessionId = sessionId; }
}
