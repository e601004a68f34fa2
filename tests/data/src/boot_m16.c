/* A tiny boot loader stand-in for an ATmega16: linked at the start of the
   boot section (byte 0x3800), so the HEX file carries a start address. It
   copies PIND to PORTB until a pin of PORTD goes low, then jumps to 0. */
#include <avr/io.h>

int main(void) {
    DDRB = 0xFF;
    PORTD = 0xFF;
    while (PIND == 0xFF) PORTB = (uint8_t)(PORTB + 1);
    ((void (*)(void))0)();
    return 0;
}
