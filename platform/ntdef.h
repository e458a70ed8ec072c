// Basic kernel types, status values, GUIDs and counted strings of the user-mode kernel stand-in.
//
// The names, widths and layouts follow the 32-bit Windows kernel headers so that driver code reads
// as it would against the real ones: ULONG and LONG are 32 bits whatever the host's `long` is.
// Everything here lives in the global namespace, like the system headers it stands in for.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

typedef void VOID;
typedef void* PVOID;
typedef char CHAR;
typedef char CCHAR;
typedef char* PCHAR;
typedef uint8_t UCHAR;
typedef UCHAR* PUCHAR;
typedef int16_t SHORT;
typedef int16_t CSHORT;
typedef uint16_t USHORT;
typedef USHORT* PUSHORT;
typedef int32_t LONG;
typedef LONG* PLONG;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef UCHAR BOOLEAN;
typedef BOOLEAN* PBOOLEAN;
// Wide characters are 16-bit UTF-16 units on the real platform; char16_t keeps that width here.
typedef char16_t WCHAR;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

static_assert(sizeof(ULONG) == 4 && sizeof(LONG) == 4 && sizeof(USHORT) == 2);

// The calling convention of kernel services and of routines the kernel calls back (stdcall on the
// 32-bit kernel); a 64-bit process has only one.
#define NTAPI

// ---------------------------------------------------------------------------------------------
// Status values. Bits 31-30 are the severity: 0 success, 1 informational, 2 warning, 3 error.

typedef LONG NTSTATUS;

#define NT_SUCCESS(Status) (((NTSTATUS)(Status)) >= 0)
#define NT_INFORMATION(Status) ((((ULONG)(Status)) >> 30) == 1)
#define NT_WARNING(Status) ((((ULONG)(Status)) >> 30) == 2)
#define NT_ERROR(Status) ((((ULONG)(Status)) >> 30) == 3)

#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_WAIT_0 ((NTSTATUS)0x00000000L)
#define STATUS_TIMEOUT ((NTSTATUS)0x00000102L)
#define STATUS_PENDING ((NTSTATUS)0x00000103L)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005L)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#define STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002L)
#define STATUS_ACCESS_VIOLATION ((NTSTATUS)0xC0000005L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010L)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017L)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023L)
#define STATUS_MUTANT_NOT_OWNED ((NTSTATUS)0xC0000046L)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009AL)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#define STATUS_ILLEGAL_FLOAT_CONTEXT ((NTSTATUS)0xC000014AL)
#define STATUS_INVALID_BUFFER_SIZE ((NTSTATUS)0xC0000206L)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225L)
#define STATUS_PROPSET_NOT_FOUND ((NTSTATUS)0xC0000230L)

// The mode a request came from or a wait runs in.
typedef CCHAR KPROCESSOR_MODE;
typedef enum _MODE {
  KernelMode = 0,
  UserMode = 1,
} MODE;

// ---------------------------------------------------------------------------------------------
// 64-bit values split for 32-bit code; time-outs are counted in 100 ns units.

typedef union _LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

// ---------------------------------------------------------------------------------------------
// GUIDs in the standard 16-byte layout: Data1 to Data3 little-endian, Data4 as bytes.

typedef struct _GUID {
  ULONG Data1;
  USHORT Data2;
  USHORT Data3;
  UCHAR Data4[8];
} GUID;
typedef const GUID& REFGUID;

static_assert(sizeof(GUID) == 16);

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

inline BOOLEAN IsEqualGUID(REFGUID first, REFGUID second) {
  return memcmp(&first, &second, sizeof(GUID)) == 0 ? TRUE : FALSE;
}

// The kernel-streaming spelling; GUIDs in requests are always naturally aligned here.
inline BOOLEAN IsEqualGUIDAligned(REFGUID first, REFGUID second) {
  return IsEqualGUID(first, second);
}

inline bool operator==(REFGUID first, REFGUID second) { return IsEqualGUID(first, second) != 0; }

// ---------------------------------------------------------------------------------------------
// Counted UTF-16 strings; lengths are in bytes and the buffer need not be terminated.

typedef struct _UNICODE_STRING {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

// ---------------------------------------------------------------------------------------------
// Record arithmetic.

#define FIELD_OFFSET(type, field) offsetof(type, field)

#include "platform/containing_record.h"
