// A stand-in for the sound server's client library that has none of its
// functions, for a program that must run where the library is missing.
extern "C" {
int zumo_not_the_client_library = 0;
}
