package com.orva.vel.utilities.authenticate;

/** Key set-up that does nothing and prints nothing, so that main prints the first line. */
public final class VelAuthenticate {
    private VelAuthenticate() {
    }

    public static void setKeys() {
    }
}
