package com.orva.vel.utilities.authenticate;

import com.orva.vel.standin.Report;

/** Stand-in for the product's key set-up; VEL_STANDIN_SETKEYS=throw makes it fail. */
public final class VelAuthenticate {
    private VelAuthenticate() {
    }

    public static void setKeys() {
        System.out.println("setKeys " + Report.ids());
        System.out.println("setKeysGids " + Report.gids());
        System.out.println("setKeysCaps " + Report.threadCapabilities());
        System.out.println("setKeysProcOwner " + Report.procOwner());
        System.out.flush();
        if ("throw".equals(System.getenv("VEL_STANDIN_SETKEYS"))) {
            throw new IllegalStateException("stand-in key failure requested");
        }
    }
}
