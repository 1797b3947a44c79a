/*
 * rpc.h - POSIX platform layer, Win32 header: the one RPC runtime call the
 * library makes, UuidFromStringA (implemented by platform/src/rpc.cpp).
 */
#ifndef QX_RPC_H
#define QX_RPC_H

#include <guiddef.h>
#include <windef.h>

typedef LONG RPC_STATUS;
typedef unsigned char *RPC_CSTR;
#ifndef UUID_DEFINED
#define UUID_DEFINED
typedef GUID UUID;
#endif

#define RPC_ENTRY
#define RPC_S_OK 0
#define RPC_S_INVALID_ARG 87
#define RPC_S_INVALID_STRING_UUID 1705

QX_BEGIN_DECLS

/* UuidFromStringA - "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (no braces) into
 * *Uuid: RPC_S_OK, or RPC_S_INVALID_STRING_UUID for any other text. A null
 * text gives the nil UUID; a null Uuid is RPC_S_INVALID_ARG. */
WINBASEAPI RPC_STATUS RPC_ENTRY UuidFromStringA(RPC_CSTR StringUuid, UUID *Uuid);

QX_END_DECLS

#define UuidFromString UuidFromStringA

#endif /* QX_RPC_H */
