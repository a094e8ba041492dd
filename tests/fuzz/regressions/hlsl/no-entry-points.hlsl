float f(float x) { return x; }
