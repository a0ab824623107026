// The annotation layer: accepts every call, for any control, and draws nothing.
#include "imglib.h"

extern "C" IMGLIB_API void InitAnnotation(void*, void*, void*, ILAnnotationCallback,
                                          ILAnnotationCallback, ILAnnotationCallback,
                                          ILAnnotationCallback, ILAnnotationCallback, const char*)
{
}
extern "C" IMGLIB_API void DrawAnnotation(void*, double, int32_t, int32_t, int32_t, int32_t,
                                          int32_t, int32_t)
{
}
extern "C" IMGLIB_API void ClearAnnotation(void*) {}
extern "C" IMGLIB_API void DestroyAnnotation(void*) {}
