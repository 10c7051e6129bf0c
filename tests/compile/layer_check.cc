// tests/compile/layer_check.cc: compiled as a source of one layer's target, with the header it
// includes named on the command line. A header of a layer below compiles; one of a layer the
// target does not link, one above it above all, is not found, and the compile stops.
#include KELVO_LAYER_HEADER
