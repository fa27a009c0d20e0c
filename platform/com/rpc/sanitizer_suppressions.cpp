// Under ThreadSanitizer: gRPC (its upb runtime too), Abseil and OpenSSL (gRPC's TLS) come from
// the distribution, built without the sanitizer, so the hand-over of work between their threads
// (completion queues, event engine, reference counts) is invisible to it and it reports races
// that are none. Suppressed are reports with a frame in those libraries or in gRPC's code
// inlined from its headers. That covers our stream callbacks too (gRPC calls them); they take
// their session's lock for everything they touch. Races among our own threads (worker pool,
// client reader, apartment) are still reported.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libgrpc.so.29\n"
         "called_from_lib:libgpr.so.29\n"
         "called_from_lib:libupb.so.29\n"
         "called_from_lib:libgrpc++.so.1.51\n"
         "called_from_lib:libabsl_synchronization.so\n"
         "called_from_lib:libcrypto.so.3\n"
         "called_from_lib:libssl.so.3\n"
         "called_from_lib:libabsl_graphcycles_internal.so\n"
         "race:libgrpc\n"
         "race:libgpr\n"
         "race:libupb\n"
         "race:libabsl_\n"
         "race:libcrypto.so\n"
         "race:libssl.so\n"
         "race:grpc::\n"
         "race:grpc_core::\n"
         "race:synchronization_internal::GraphCycles\n";
}

// Under LeakSanitizer: OpenSSL 3 keeps an error state per thread (904 bytes, with the texts of
// its entries) and frees it when the thread ends. gRPC's event engine threads are detached and
// may still be running when the process exits, so their states are reported as leaks; whether
// one is depends on timing. OpenSSL is only ever called by gRPC here. Its allocations are
// suppressed by library, as it is built without frame pointers and stacks end inside it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libcrypto.so.3\n"
         "leak:libssl.so.3\n";
}
