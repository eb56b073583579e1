// The digitizer's wire protocol: the configuration frame the assistant sends
// and the reply frame the digitizer answers with. Portable: standard C++ only.
//
// All bytes are unsigned; every sum is a sum of bytes modulo 256.
//
// Configuration frame (kFrameLength = 6 bytes, sent as is):
//
//   Offset  Length  Value          Meaning
//   0       1       0xDB           start byte (kFrameStart); never summed
//   1       1       0x01           fixed value (kFrameFixed)
//   2       1       mode code      digitizer output format; codes 0 to 25 in use
//   3       1       K AND 0x77     check value, bits 0-2 and 4-6
//   4       1       K AND 0x88     check value, bits 3 and 7
//   5       1       0xDD           end byte (kFrameEnd)
//
//   K = (256 - (byte 1 + byte 2)) mod 256, so bytes 1 to 4 sum to 0. The two
//   masks split K so that neither check byte can equal 0xDB, 0xDD or 0xEA.
//   The frame lives in a zeroed buffer of kFrameBufferSize bytes; only the
//   first kFrameLength bytes are sent.
//
// Reply frame (kReplyLength = 5 bytes, received into a zeroed buffer of
// kFrameBufferSize bytes):
//
//   Offset  Length  Value          Meaning
//   0       1       0xEA           start byte (kReplyStart)
//   1       3       any            content; bytes 1 to 3 must sum to 0
//   4       1       0xDD           end byte (kReplyEnd)
//
//   The content bytes carry no further meaning; they are not compared with
//   the mode code that was sent.
#pragma once

#include <cstddef>
#include <string>

constexpr int kFrameLength = 6;
constexpr int kReplyLength = 5;
constexpr int kFrameBufferSize = 100;

constexpr unsigned char kFrameStart = 0xDB;
constexpr unsigned char kFrameFixed = 0x01;
constexpr unsigned char kFrameEnd = 0xDD;
constexpr unsigned char kReplyStart = 0xEA;
constexpr unsigned char kReplyEnd = 0xDD;

constexpr unsigned char kCheckLowMask = 0x77;
constexpr unsigned char kCheckHighMask = 0x88;

// Fills in the last three bytes of an n-byte frame whose bytes 0 to n-4 are
// set: the two check bytes over bytes 1 to n-4, then the end byte. Touches
// no other byte. The configuration run calls it with n = kFrameLength.
// Returns false, touching nothing, when frame is null or n is below 3.
bool CompleteFrame(unsigned char* frame, int n);

// True when the n bytes are a valid reply frame: start byte, end byte, and
// bytes 1 to n-2 summing to 0 (n = 2 has no content and only needs EA DD).
// Start and end are judged before any sum. Returns false without reading
// when reply is null or n is below 1.
bool CheckReply(const unsigned char* reply, int n);

// The bytes as frames are written for people: upper-case hex pairs separated by
// blanks ("DB 01 0E 71 80 DD").
std::string HexText(const unsigned char* bytes, std::size_t count);
