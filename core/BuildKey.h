// The build key that makes an executable the download wizard ("DLM") or the
// installer wizard ("ISV"). Each executable links its own definition.
#pragma once

const char* BuildKey();
