#pragma once
// How the console's key codes make one key: apart from keyboard.cpp, so that its tests can feed
// it codes without a console.

// The key whose first code is first, taking the rest of a two-code key from next_code.
int key_from_codes(int first, int (*next_code)());
