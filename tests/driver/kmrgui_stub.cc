// Stands in for the host's GUI program "kmrgui" in the tests: it ends at once.
int main() { return 0; }
