// The waits for the user after a failure. At the end of standard input
// they end at once, so runs without a keyboard never hang.
#pragma once

// Reads one character: on a console the wait ends when Enter is pressed.
void waitForCharacter();

// Reads one whole number, as the failure to create the merged file asks:
// the wait ends at the first input that is not whitespace.
void waitForInteger();
