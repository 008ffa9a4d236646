package com.orva.vel.utilities.version;

/** A patched VelVersion: found first when its archive is in the patch directory. */
public final class VelVersion {
    private VelVersion() {
    }

    public static void main(String[] args) {
        System.out.println("main patched com.orva.vel.utilities.version.VelVersion");
    }
}
