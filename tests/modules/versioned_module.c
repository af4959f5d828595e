/* A platform module for the module registry tests: it only has to exist at
 * an address of its own; its versions come from the build. */
__attribute__((visibility("default"))) int qo_module_anchor(void) { return QO_MODULE_ID; }
