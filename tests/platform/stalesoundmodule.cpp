// Stands for a sound module left behind by an older program: it exports only an earlier entry point.
extern "C" __attribute__((visibility("default"))) void *kestrimCreateSoundPlayer0()
{
    return nullptr;
}
