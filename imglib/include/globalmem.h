/* Movable memory blocks shared by the program and the imaging modules.
 *
 * A block is one allocation: a small bookkeeping header, then the data. The
 * handle points at the header, so a block made by a module is freed by the
 * program and the other way round, as long as both use this header and the
 * same C library. Every function is safe on a null handle.
 *
 * Large blocks (pictures) are mapped pages rather than malloc'd: on huge pages
 * where the kernel offers them, faulted in by one call instead of one fault
 * per 4 KiB page. Touching a fresh 60 MB picture page by page costs more than
 * decoding it on some machines. */
#ifndef SNIMKOREZ_GLOBALMEM_H
#define SNIMKOREZ_GLOBALMEM_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#ifdef __linux__
#include <sys/mman.h>
#endif

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
    size_t mapping; /* length of the mapped pages, 0 when malloc'd; keeps the data 16-byte aligned */
};

#define GLOBALMEM_MAGIC 0x4d4c4247u /* "GBLM" */
#define GLOBALMEM_FREED 0x44454552u
#define GLOBALMEM_MAP_FROM ((size_t)256 << 10)
#define GLOBALMEM_HUGE_PAGE ((size_t)2 << 20)

/* Zeroed pages for at least `bytes`, starting on a huge-page boundary when
 * that many bytes fill one, faulted in ahead; null when none are to be had.
 * *length receives what globalmem_unmap needs. */
static inline void* globalmem_map(size_t bytes, size_t* length)
{
#ifdef __linux__
    const size_t page = 4096;
    if (bytes > SIZE_MAX - 2 * GLOBALMEM_HUGE_PAGE)
        return NULL;
    size_t wanted = (bytes + page - 1) & ~(page - 1);
    const size_t align = wanted >= GLOBALMEM_HUGE_PAGE ? GLOBALMEM_HUGE_PAGE : page;
    if (align == GLOBALMEM_HUGE_PAGE)
        wanted = (wanted + align - 1) & ~(align - 1);
    const size_t over = wanted + align - page;
    char* raw = (char*)mmap(NULL, over, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == (char*)MAP_FAILED)
        return NULL;
    char* start = (char*)(((uintptr_t)raw + align - 1) & ~(uintptr_t)(align - 1));
    if (start > raw)
        munmap(raw, (size_t)(start - raw));
    if (raw + over > start + wanted)
        munmap(start + wanted, (size_t)(raw + over - (start + wanted)));
#ifdef MADV_HUGEPAGE
    if (align == GLOBALMEM_HUGE_PAGE)
        madvise(start, wanted, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    madvise(start, wanted, MADV_POPULATE_WRITE); /* older kernels: faults as usual */
#endif
    *length = wanted;
    return start;
#else
    (void)bytes;
    (void)length;
    return NULL;
#endif
}

static inline void globalmem_unmap(void* pages, size_t length)
{
#ifdef __linux__
    if (pages != NULL)
        munmap(pages, length);
#else
    (void)pages;
    (void)length;
#endif
}

static inline int GlobalIsBlock(HGLOBAL h)
{
    return h != NULL && h->magic == GLOBALMEM_MAGIC;
}

/* A zero-size request still gives a block; null when memory runs out. */
static inline HGLOBAL GlobalAlloc(unsigned flags, size_t bytes)
{
    if (bytes > SIZE_MAX - sizeof(struct GlobalBlock))
        return NULL;
    size_t mapped = 0;
    struct GlobalBlock* b = NULL;
    if (bytes >= GLOBALMEM_MAP_FROM)
        b = (struct GlobalBlock*)globalmem_map(sizeof(struct GlobalBlock) + bytes, &mapped);
    if (b == NULL) {
        mapped = 0;
        b = (struct GlobalBlock*)((flags & GMEM_ZEROINIT)
            ? calloc(1, sizeof(struct GlobalBlock) + bytes)
            : malloc(sizeof(struct GlobalBlock) + bytes));
    }
    if (b == NULL)
        return NULL;
    b->magic = GLOBALMEM_MAGIC;
    b->flags = flags & ~(unsigned)GMEM_LOCKCOUNT;
    b->locks = 0;
    b->reserved = 0;
    b->size = bytes;
    b->mapping = mapped;
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
    if (h->mapping != 0)
        globalmem_unmap(h, h->mapping);
    else
        free(h);
    return NULL;
}

#ifdef __cplusplus
}
#endif

#endif
