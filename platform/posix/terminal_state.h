#pragma once
// The terminal's state as the program found it, and its restoration on every way out: a
// normal exit, exit(), SIGINT, SIGTERM, SIGHUP, and around a suspension (Ctrl-Z).
//
// Only async-signal-safe calls run in the handlers: tcsetattr and write of sequences prepared
// beforehand.

// Called by keyboard_open: saves the keyboard's termios, installs the handlers and the
// atexit restoration. raw_mode is the termios to put back after a resume.
void terminal_keep_keyboard(int fd, const void* saved_termios, const void* raw_termios);
void terminal_release_keyboard();

// The console's sequences: reset (plain colours, cursor shown) for every way out, and the
// current attribute to put back after a resume. Both are copied.
void terminal_set_reset_sequence(const char* sequence);
void terminal_set_attribute_sequence(const char* sequence);
// Written before the reset when a signal ends the program: puts the cursor below the screen's
// content, so that the shell's prompt does not land inside it.
void terminal_set_leave_sequence(const char* sequence);

// Puts the terminal back as it was found (keyboard mode and colours); the screen stays.
void terminal_restore();
