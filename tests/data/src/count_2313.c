/* Counts on PORTB of an AT90S2313 (a part programmed byte by byte), with a
   lookup table in Flash. Another real image for the image file tests. */
#include <avr/io.h>
#include <avr/pgmspace.h>

static const uint8_t gray[] PROGMEM = {0x00, 0x01, 0x03, 0x02, 0x06, 0x07, 0x05, 0x04,
                                       0x0C, 0x0D, 0x0F, 0x0E, 0x0A, 0x0B, 0x09, 0x08};

int main(void) {
    DDRB = 0xFF;
    uint8_t n = 0;
    for (;;) {
        PORTB = pgm_read_byte(&gray[n & 0x0F]);
        for (volatile uint16_t d = 0; d < 5000; ++d) {
        }
        ++n;
    }
}
