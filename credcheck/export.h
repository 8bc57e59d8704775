/*
 * export.h - the markers that every public header of the libraries uses.
 *
 * CREDCHECK_BEGIN_DECLS and CREDCHECK_END_DECLS enclose the declarations
 * of a public header: they give them C linkage under C++ and default
 * symbol visibility, so that a shared library built with hidden
 * visibility exports exactly what its public headers declare.
 *
 * CRED_NOEXCEPT and GL_NOEXCEPT mark the functions of the cred and the
 * lineedit interface: noexcept for C++ callers (none of them throws),
 * nothing for C.
 */
#ifndef CREDCHECK_EXPORT_H
#define CREDCHECK_EXPORT_H

#if defined(__GNUC__)
#define CREDCHECK_VISIBLE_BEGIN _Pragma("GCC visibility push(default)")
#define CREDCHECK_VISIBLE_END _Pragma("GCC visibility pop")
#else
#define CREDCHECK_VISIBLE_BEGIN
#define CREDCHECK_VISIBLE_END
#endif

#ifdef __cplusplus
#define CREDCHECK_BEGIN_DECLS \
    extern "C" {              \
    CREDCHECK_VISIBLE_BEGIN
#define CREDCHECK_END_DECLS \
    CREDCHECK_VISIBLE_END   \
    }
#define CREDCHECK_NOEXCEPT noexcept
#else
#define CREDCHECK_BEGIN_DECLS CREDCHECK_VISIBLE_BEGIN
#define CREDCHECK_END_DECLS CREDCHECK_VISIBLE_END
#define CREDCHECK_NOEXCEPT
#endif

#ifndef CRED_NOEXCEPT
#define CRED_NOEXCEPT CREDCHECK_NOEXCEPT
#endif
#ifndef GL_NOEXCEPT
#define GL_NOEXCEPT CREDCHECK_NOEXCEPT
#endif

#endif /* CREDCHECK_EXPORT_H */
