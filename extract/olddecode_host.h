// The host's decoders of the methods older than -lh4- and of PMarc's, each
// producing the current member through the window of extract/window_host.h.
// All of their state lives in the work area; every read of a table stays
// inside it and every loop is bounded by the member's original size or its
// data.
#pragma once

void DecodeLh1();
void DecodeLh2();
void DecodeLh3();
void DecodeLz5();
void DecodeLzs();
void DecodePm1();
void DecodePm2();
// The current member's data through the decoder of its method, the stub's
// methods included, as the driver decodes a member (extract/methods_host).
void DecodeByMethod();
