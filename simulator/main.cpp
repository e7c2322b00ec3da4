// Replaced by the simulator's entry point in the next commit.
int main() { return 1; }
