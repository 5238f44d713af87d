#pragma once

// The whole program behind main(): builds the application and the window, runs the
// event loop and returns its result. Kept out of main.cpp so that tests can run exactly
// what the program runs.
int runApplication(int &argc, char **argv);
