// credcheck: entry point.
int main() { return 2; }
