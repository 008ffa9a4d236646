package com.orva.vel.cli;

/** A dispatcher without a main(String[]), for the launcher's missing-main path. */
public final class VelCommandDispatcher {
    private VelCommandDispatcher() {
    }

    public static void main() {
        System.out.println("main without arguments");
    }
}
