// Entry point of korvane_setup.exe.
int wWinMain() { return 0; }
