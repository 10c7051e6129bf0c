// device/tools/make_def.cc: writes the module-definition (.def) files that bind a Windows build to
// the device library's export names, from the list of operations (device/kelvoscanusb_operations.h)
// and their parameter types. Built for and run on the build machine, like sim/make_fpga_image.
//
//   make_def import  cdecl|stdcall decorated|plain|underscore OUTPUT   the tool's import library
//   make_def exports cdecl|stdcall decorated|plain|underscore OUTPUT   extra names a DLL of ours exports
//
// On 32-bit Windows a stdcall function Name whose arguments take N bytes on the stack is the
// symbol Name@N; the maker's DLL exports it as Name@N (decorated), Name (plain) or _Name@N
// (underscore). The import entry "Name@N == export" lets the tool call it by its symbol
// whatever the DLL calls it. cdecl functions are Name everywhere.
#include <cstdio>
#include <cstring>
#include <string>

#include "device/kelvoscanusb.h"
#include "device/stack_bytes.h"

namespace {

struct Operation {
    const char* name;
    unsigned argumentBytes;
};

#define KELVO_ENTRY(result, name, parameters, arguments) {#name, kelvo::ArgumentBytes<decltype(::name)>::value},
constexpr Operation kOperations[] = {KELVO_OPERATIONS(KELVO_ENTRY)};
#undef KELVO_ENTRY

int Usage() {
    std::fputs("usage: make_def import|exports cdecl|stdcall decorated|plain|underscore OUTPUT\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return Usage();
    const std::string kind = argv[1], convention = argv[2], names = argv[3];
    if ((kind != "import" && kind != "exports") || (convention != "cdecl" && convention != "stdcall") ||
        (names != "decorated" && names != "plain" && names != "underscore")) {
        return Usage();
    }
    std::string text = "; Written by make_def (device/tools/make_def.cc) from device/kelvoscanusb.h: " + kind + ", " +
                       convention + (convention == "stdcall" ? ", " + names + " export names" : "") + "\n";
    if (kind == "import") text += "LIBRARY kelvoscanusb.dll\n";
    text += "EXPORTS\n";
    for (const Operation& operation : kOperations) {
        const std::string plain = operation.name;
        const std::string symbol = convention == "stdcall" ? plain + "@" + std::to_string(operation.argumentBytes)
                                                           : plain;
        const std::string exported = convention == "cdecl" ? plain
                                     : names == "plain"    ? plain
                                     : names == "underscore" ? "_" + symbol
                                                             : symbol;
        if (kind == "import") {
            text += "  " + symbol + (exported == symbol ? "" : " == " + exported) + "\n";
        } else if (exported != symbol) {
            // A DLL of ours exports the symbol under its own name already; the maker's name is
            // added as a second name for the same function.
            text += "  " + exported + " = " + symbol + "\n";
        }
    }
    std::FILE* out = std::fopen(argv[4], "wb");
    if (out == nullptr) {
        std::perror(argv[4]);
        return 1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[4]);
        return 1;
    }
    return 0;
}
