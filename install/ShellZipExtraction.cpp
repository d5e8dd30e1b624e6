#include "install/ShellZipExtraction.h"

#include <shldisp.h>

#include "framework/ComApartment.h"
#include "framework/ComPtr.h"

namespace {

using framework::ComPtr;

// FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI
constexpr LONG kQuietCopyOptions = 0x614;

VARIANT BorrowedText(BSTR text) {
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = text;
    return value;
}

VARIANT BorrowedDispatch(IDispatch* dispatch) {
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_DISPATCH;
    value.pdispVal = dispatch;
    return value;
}

VARIANT Integer(LONG number) {
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
    return value;
}

// NameSpace answers S_FALSE with no folder for what it cannot open.
ComPtr<Folder> OpenFolder(IShellDispatch* shell, BSTR path) {
    ComPtr<Folder> folder;
    if (FAILED(shell->NameSpace(BorrowedText(path), folder.Put()))) folder.Reset();
    return folder;
}

bool CopyItems(IShellDispatch* shell, BSTR archive, BSTR target) {
    const ComPtr<Folder> source = OpenFolder(shell, archive);
    const ComPtr<Folder> destination = OpenFolder(shell, target);
    if (!source || !destination) return false;

    ComPtr<FolderItems> items;
    if (FAILED(source->Items(items.Put())) || !items) return false;
    long count = 0;
    if (FAILED(items->get_Count(&count)) || count < 1) return false;

    ComPtr<IDispatch> itemsDispatch;
    if (FAILED(items->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(itemsDispatch.Put()))) || !itemsDispatch) {
        return false;
    }
    return destination->CopyHere(BorrowedDispatch(itemsDispatch.Get()), Integer(kQuietCopyOptions)) == S_OK;
}

}  // namespace

bool ExtractZipWithShell(BSTR archive, BSTR folder) {
    const framework::ComApartment com;
    if (!com.Usable()) return false;
    ComPtr<IShellDispatch> shell;
    if (FAILED(::CoCreateInstance(CLSID_Shell, nullptr, CLSCTX_INPROC_SERVER, IID_IShellDispatch,
                                  reinterpret_cast<void**>(shell.Put()))) ||
        !shell) {
        return false;
    }
    return CopyItems(shell.Get(), archive, folder);
}
