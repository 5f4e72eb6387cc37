/* Lookups that the native library exports, so that a host on Linux can read the
   module's resources by id once it has loaded libqzproduct.so (dlopen/dlsym):
   the product strings, the icon groups and their icons, the splash bitmap, the
   version block and the manifest. Every resource is stored in language 1033.
   The data stays owned by the library and lives as long as it stays loaded. */
#ifndef QZ_RESOURCE_EXPORTS_H
#define QZ_RESOURCE_EXPORTS_H

#ifdef __cplusplus
extern "C" {
#endif

/* As LoadStringA: copies string `id`, in Windows-1252, into `buffer`, at most size - 1
   bytes followed by a NUL, and returns the number of bytes copied before the NUL.
   A missing entry gives an empty text and 0. With no buffer or a size below 1
   nothing is written and the result is 0. */
int QzLoadString(unsigned id, char* buffer, int size);

/* The data of the resource of this numeric type (RT_ICON 3, RT_BITMAP 2,
   RT_GROUP_ICON 14, RT_VERSION 16, RT_MANIFEST 24, ...) and id, its size in *size
   (when size is not null); null, and a size of 0, when there is none. */
const void* QzFindResource(unsigned type, unsigned id, unsigned* size);

/* The ids of the resources of a type in ascending order (so for RT_GROUP_ICON
   the icon index order): writes at most `capacity` of them to `ids` and returns
   how many there are in all. */
unsigned QzEnumResourceIds(unsigned type, unsigned* ids, unsigned capacity);

typedef int (*QzLoadStringFunction)(unsigned, char*, int);
typedef const void* (*QzFindResourceFunction)(unsigned, unsigned, unsigned*);
typedef unsigned (*QzEnumResourceIdsFunction)(unsigned, unsigned*, unsigned);

#ifdef __cplusplus
}
#endif

#endif
