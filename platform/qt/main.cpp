// The program's entry point; the Qt window replaces this placeholder.
int main() { return 0; }
