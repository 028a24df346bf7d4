// Baseline: what starting and ending a console program costs on this platform.
int main() {
    return 0;
}
