// tests/support/last_block_client.cc: a program whose last call of the device library is a
// ReadBlock: it ends without Free_Interface, as a program that exits in the middle of a stream.
#include <cstdint>

#include "device/kelvoscanusb.h"

int main() {
    if (Init_Interface() != 0) return 1;
    uint8_t block[1000];
    int32_t received = 0;
    (void)ReadBlock(block, static_cast<int32_t>(sizeof block), &received);
    return 0;
}
