/* A library with a big initial-exec thread-local block, as some language
   runtimes and plugins carry: loaded first, it takes most of glibc's static
   reserve for libraries loaded at run time. */
static __thread char hog[TLS_HOG_BYTES] __attribute__((tls_model("initial-exec")));

__attribute__((visibility("default"))) int tls_hog_touch(void) {
    hog[0] = 1;
    return hog[0] + hog[TLS_HOG_BYTES - 1];
}
