#pragma once
// Developer aids: values written as text into files of the debug folder,
// $HOME/Documents/CorvenaAudio-Debug, and read back. Names are file names
// relative to that folder. A file that cannot be opened (no HOME, missing
// folder, path longer than 511 bytes) is skipped silently. Numbers are
// written "%g " (doubles) or "%d " (integers), each followed by one blank.
// [any thread] file I/O: never call these on the audio thread.
#include "toolkit/ComplexValue.h"
#include "toolkit/KIT_TypedBuf.h"

#include <cstdint>

// Full path of name in the debug folder into path (size bytes, NUL
// terminated). False when HOME is unset or the path does not fit.
bool MakeDebugDumpPath(const char* name, char* path, int size);

// Appends text and a newline.
void DumpText(const char* name, const char* text);

// n values (n <= 0 writes an empty file), replacing the file.
void DumpData(const char* name, const double* data, int n);
void DumpData(const char* name, const KIT_TypedBuf<double>& data);
void DumpData(const char* name, const int* data, int n);
void DumpData(const char* name, const int16_t* data, int n);
// n values appended.
void DumpDataAppend(const char* name, const double* data, int n);
// One value, replacing the file or appended.
void DumpValue(const char* name, double value, bool append);
void DumpIntAppend(const char* name, int value);
// data: (height, width) row-major; one text line per row.
void DumpData2D(const char* name, const double* data, int width, int height);
// Magnitudes sqrt(re^2 + im^2) into magnName, phases atan2(im, re) into phaseName.
void DumpComplex(const char* magnName, const char* phaseName, const ComplexValue* data, int n);
// n magnitudes into magnName, the n matching phases into phaseName.
void DumpMagnPhase(const char* magnName, const char* phaseName, const double* magns,
                   const double* phases, int n);
// Phases made non-decreasing: every value after the first gets whole turns
// of 2 pi added until it is not below the value written before it.
void DumpPhasesUnwrapped(const char* name, const double* phases, int n);

// Reads up to n "%lf" values into data; returns how many were read (0 when
// the file cannot be opened). Elements past the last read are untouched.
int ReadData(const char* name, double* data, int n);
