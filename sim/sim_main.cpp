int main() { return 0; } // Placeholder: being written.
