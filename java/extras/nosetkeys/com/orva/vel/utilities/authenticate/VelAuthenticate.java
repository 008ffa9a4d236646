package com.orva.vel.utilities.authenticate;

/** An authentication class without setKeys(), for the launcher's missing-method path. */
public final class VelAuthenticate {
    private VelAuthenticate() {
    }

    public static void setKeys(String ignored) {
        System.out.println("setKeys with the wrong signature");
    }
}
