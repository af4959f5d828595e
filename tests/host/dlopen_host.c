/* A host that loads the library at run time, after other libraries that
   use static thread-local storage (each argument but the last is loaded
   first; a missing one is passed over), and runs QOL on the main thread and
   on a thread started after the load. Exits 0 when every run answers. */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

typedef const char* (*ExecQol)(const char*);
typedef void* (*CreateInterp)(void);
typedef int (*Eval)(void*, const char*, long, const char*);
typedef int (*GetResult)(void*, char*, const char**, size_t*);
typedef int (*FreeInterp)(void*);

static void* library;

static int Expect(const char* what, const char* got, const char* wanted) {
    if (got && strcmp(got, wanted) == 0) return 1;
    fprintf(stderr, "%s: got %s, wanted %s\n", what, got ? got : "(null)", wanted);
    return 0;
}

static void* RunOnThread(void* unused) {
    (void)unused;
    CreateInterp create = (CreateInterp)dlsym(library, "ruqo_CreateInterp");
    Eval eval = (Eval)dlsym(library, "ruqo_Eval");
    GetResult result = (GetResult)dlsym(library, "ruqo_GetResult");
    FreeInterp release = (FreeInterp)dlsym(library, "ruqo_FreeInterp");
    if (!create || !eval || !result || !release) return (void*)"missing entry point";
    void* qo = create();
    char type = 0;
    const char* text = NULL;
    size_t length = 0;
    /* A pattern match and a native call use the per-thread tables. */
    eval(qo, "n=0; i=0; while(i<20){ n=n+match('abc','a*c'); i=i+1; } n+Dll::c::strlen('%4=%s','abc')", -1, NULL);
    result(qo, &type, &text, &length);
    int good = type == 'N' && Expect("thread run", text, "63");
    release(qo);
    return good ? NULL : (void*)"wrong result";
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    for (int i = 1; i + 1 < argc; ++i)
        if (!dlopen(argv[i], RTLD_NOW | RTLD_GLOBAL)) fprintf(stderr, "passed over: %s\n", dlerror());
    library = dlopen(argv[argc - 1], RTLD_NOW);
    if (!library) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    ExecQol exec = (ExecQol)dlsym(library, "ruqo_ExecQol");
    if (!exec || !Expect("main thread run", exec("'Hello, ' 'host'"), "S:Hello, host")) return 1;
    pthread_t thread;
    void* failure = (void*)"not started";
    if (pthread_create(&thread, NULL, RunOnThread, NULL) == 0) pthread_join(thread, &failure);
    if (failure) {
        fprintf(stderr, "thread: %s\n", (const char*)failure);
        return 1;
    }
    return 0;
}
