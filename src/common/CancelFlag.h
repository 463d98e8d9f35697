#pragma once

// Set by the progress dialog's Cancel button; every transfer loop and batch polls it between
// blocks and items. Cleared by the command that starts a cancellable operation.
extern bool CancelRequested;
