package com.orva.vel.utilities.version;

/** Hello-world command class: its first line marks the moment main runs. */
public final class VelVersion {
    private VelVersion() {
    }

    public static void main(String[] args) {
        System.out.println("hello from main");
    }
}
