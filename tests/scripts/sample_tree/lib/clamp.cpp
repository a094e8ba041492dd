// Sample product code for the fault runner's own test.
int ClampToByte(int v) {
    if (v < 0) {
        return 0;
    }
    if (v > 255) {
        return 255;
    }
    return v;
}

int Twice(int v) {
    return v + v;
}
