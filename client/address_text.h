// client/address_text.h
#pragma once

// Field n (from 0) of a dotted address text, as the low 8 bits of the decimal
// number at its start; 0 where the field has no digits or does not exist.
int GetOctet(const char* address, int n);
