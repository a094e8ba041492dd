// Checks the sample away from the edges and never calls Twice, so some faults survive.
int ClampToByte(int v);

int main() {
    return ClampToByte(-5) == 0 && ClampToByte(300) == 255 && ClampToByte(7) == 7 ? 0 : 1;
}
