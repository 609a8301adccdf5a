#pragma once
// Command-line options of tessera-batch.
