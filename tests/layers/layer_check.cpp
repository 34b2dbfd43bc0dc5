// Links one layer's library whole; running it does nothing.
int main() {
    return 0;
}
