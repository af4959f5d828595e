-- Neovim as the client of `qol --lsp` (tests/lsp/neovim_test.py): loads
-- editors/vim, opens the file given on the command line, waits for the
-- diagnostics, asks for a hover at QOL_HOVER ("line:character") and writes
-- what Neovim's own API answers to QOL_RESULT.
vim.opt.runtimepath:prepend(os.getenv('QOL_EDITORS_DIR'))
vim.cmd('filetype plugin on')
vim.cmd('syntax on')
require('qol_lsp').setup({ cmd = { os.getenv('QOL_BIN'), '--lsp' } })

vim.api.nvim_create_autocmd('VimEnter', {
  callback = function()
    local out = { 'filetype ' .. vim.bo.filetype }
    vim.wait(20000, function() return #vim.diagnostic.get(0) > 0 end, 50)
    for _, d in ipairs(vim.diagnostic.get(0)) do
      table.insert(out, string.format('diagnostic %d:%d %d %s', d.lnum, d.col, d.severity, d.message))
    end
    local line, character = os.getenv('QOL_HOVER'):match('(%d+):(%d+)')
    local params = {
      textDocument = { uri = vim.uri_from_bufnr(0) },
      position = { line = tonumber(line), character = tonumber(character) },
    }
    local results = vim.lsp.buf_request_sync(0, 'textDocument/hover', params, 10000)
    for _, r in pairs(results or {}) do
      if r.result then
        table.insert(out, 'hover ' .. r.result.contents.value:gsub('\n', ' '))
      end
    end
    vim.fn.writefile(out, os.getenv('QOL_RESULT'))
    vim.cmd('qall!')
  end,
})
