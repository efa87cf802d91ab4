#pragma once

// Hot loops are built twice, AVX2 and portable, and the loader picks one
// through an ifunc resolver. ThreadSanitizer's runtime is not running yet
// when resolvers run, so its builds keep only the portable version. Nor do
// clang builds (the fuzzers): clang names the dispatcher apart from the
// plain function, so calls from other files would not link.
#if defined(__SANITIZE_THREAD__) || defined(__clang__)
#define QI_NO_TARGET_CLONES 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QI_NO_TARGET_CLONES 1
#endif
#endif

#ifdef QI_NO_TARGET_CLONES
#define QI_TARGET_CLONES
#else
#define QI_TARGET_CLONES __attribute__((target_clones("avx2", "default")))
#endif
