#pragma once
// Entry trace for framework functions. Tracing is compiled out in this build;
// the call sites stay so that a tracing build can log every entry point.
#define FW_TRACE() ((void)0)
