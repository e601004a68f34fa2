/* Blinks an LED on PB0 of an ATmega16 and counts its blinks in EEPROM.
   A small program with code, constant data in Flash and initial EEPROM
   contents, used as a real image for the image file tests. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <util/delay.h>

static const uint8_t pattern[] PROGMEM = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 1, 0};
uint16_t EEMEM blinkCount = 0;
uint8_t EEMEM greeting[] = "Quillon test image";

int main(void) {
    DDRB = 0x01;
    uint8_t i = 0;
    for (;;) {
        PORTB = pgm_read_byte(&pattern[i]);
        i = (uint8_t)((i + 1) % sizeof pattern);
        if (i == 0) eeprom_update_word(&blinkCount, eeprom_read_word(&blinkCount) + 1);
        _delay_ms(250);
    }
}
