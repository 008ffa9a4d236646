package com.orva.vel.cli;

/** Hello-world command class: its first line marks the moment main runs. */
public final class VelCommandDispatcher {
    private VelCommandDispatcher() {
    }

    public static void main(String[] args) {
        System.out.println("hello from main");
    }
}
