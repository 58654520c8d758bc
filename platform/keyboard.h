#pragma once
// The keyboard, one implementation per OS.
//
// What the rest of the program may assume:
// - After keyboard_open, keys come one at a time, without echo and without waiting for Enter.
//   The interrupt keys keep their meaning.
// - key_waiting tells whether a key is waiting, without taking it and without blocking.
// - key_read takes one key code. A key that the terminal sends as several codes (cursor and
//   function keys, Alt with a letter) comes as one code, its first (0x1B, 0x00 or 0xE0), so
//   that no later code of it can pass for a letter the program acts on.
// - keyboard_close puts the keyboard back as keyboard_open found it; so does every way out of
//   the program.
void keyboard_open();
bool key_waiting();
int key_read();
void keyboard_close();
