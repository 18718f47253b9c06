// A library that loads but serves no classes: it lacks DllGetClassObject.
extern "C" int zebTestLibraryWithoutEntryPoint() {
    return 1;
}
