/* Movable memory blocks shared by the program and the imaging modules.
 *
 * A block is one malloc'd allocation: a small bookkeeping header, then the
 * data. The handle points at the header, so a block made by a module is freed
 * by the program and the other way round, as long as both use this header and
 * the same C library. Every function is safe on a null handle. */
#ifndef SNIMKOREZ_GLOBALMEM_H
#define SNIMKOREZ_GLOBALMEM_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct GlobalBlock* HGLOBAL;

enum {
    GMEM_FIXED = 0x0000,
    GMEM_MOVEABLE = 0x0002,
    GMEM_ZEROINIT = 0x0040,
    GHND = GMEM_MOVEABLE | GMEM_ZEROINIT,
    GMEM_LOCKCOUNT = 0x00ff,
    GMEM_INVALID_HANDLE = 0x8000
};

struct GlobalBlock {
    uint32_t magic;
    uint32_t flags;
    uint32_t locks;
    uint32_t reserved;
    size_t size;
    size_t padding; /* keeps the data 16-byte aligned */
};

#define GLOBALMEM_MAGIC 0x4d4c4247u /* "GBLM" */
#define GLOBALMEM_FREED 0x44454552u

static inline int GlobalIsBlock(HGLOBAL h)
{
    return h != NULL && h->magic == GLOBALMEM_MAGIC;
}

/* A zero-size request still gives a block; null when memory runs out. */
static inline HGLOBAL GlobalAlloc(unsigned flags, size_t bytes)
{
    if (bytes > SIZE_MAX - sizeof(struct GlobalBlock))
        return NULL;
    struct GlobalBlock* b = (struct GlobalBlock*)((flags & GMEM_ZEROINIT)
        ? calloc(1, sizeof(struct GlobalBlock) + bytes)
        : malloc(sizeof(struct GlobalBlock) + bytes));
    if (b == NULL)
        return NULL;
    b->magic = GLOBALMEM_MAGIC;
    b->flags = flags & ~(unsigned)GMEM_LOCKCOUNT;
    b->locks = 0;
    b->reserved = 0;
    b->size = bytes;
    b->padding = 0;
    return b;
}

/* The data of the block, one lock more; null for an invalid handle. */
static inline void* GlobalLock(HGLOBAL h)
{
    if (!GlobalIsBlock(h))
        return NULL;
    if (h->locks < GMEM_LOCKCOUNT)
        ++h->locks;
    return (void*)(h + 1);
}

/* Non-zero while the block stays locked. */
static inline int GlobalUnlock(HGLOBAL h)
{
    if (!GlobalIsBlock(h) || h->locks == 0)
        return 0;
    return (int)--h->locks;
}

static inline size_t GlobalSize(HGLOBAL h)
{
    return GlobalIsBlock(h) ? h->size : 0;
}

/* Allocation flags with the lock count in the low byte. */
static inline unsigned GlobalFlags(HGLOBAL h)
{
    return GlobalIsBlock(h) ? (h->flags | h->locks) : (unsigned)GMEM_INVALID_HANDLE;
}

/* The handle of a block given its data pointer (what GlobalLock returned). */
static inline HGLOBAL GlobalHandle(const void* data)
{
    if (data == NULL)
        return NULL;
    HGLOBAL h = ((HGLOBAL)data) - 1;
    return GlobalIsBlock(h) ? h : NULL;
}

/* Null on success, the handle when it was not a block. */
static inline HGLOBAL GlobalFree(HGLOBAL h)
{
    if (h == NULL)
        return NULL;
    if (!GlobalIsBlock(h))
        return h;
    h->magic = GLOBALMEM_FREED;
    free(h);
    return NULL;
}

#ifdef __cplusplus
}
#endif

#endif
