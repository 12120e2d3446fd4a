#pragma once

// The process entry: the application object, the delegate and the main window.
class EchoquillDesktopApp {
public:
    static int run(int argc, char** argv);
};
