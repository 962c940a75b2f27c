-- Turns a page source of docs/man/ into a manual page. A Div with an
-- `include` attribute is replaced by the Markdown file it names, relative to
-- the source tree (the build runs pandoc there): the whole document, or
-- with `section` only that section; `omit` leaves out the sections whose
-- titles it lists, separated by "|". So the pages and the documents are one
-- text and cannot drift apart.

local function read_document(path)
  local file = assert(io.open(path, "r"), path .. ": cannot be read")
  local text = file:read("a")
  file:close()
  return pandoc.read(text, "markdown").blocks
end

local function is_heading(block) return block.t == "Header" end

-- The blocks of the section titled `title`, without its heading.
local function section(blocks, title)
  local result, level = {}, nil
  for _, block in ipairs(blocks) do
    if level then
      if is_heading(block) and block.level <= level then break end
      table.insert(result, block)
    elseif is_heading(block) and pandoc.utils.stringify(block) == title then
      level = block.level
    end
  end
  assert(level, "no section titled '" .. title .. "'")
  return result, level
end

local function omit(blocks, titles)
  local left, skipping = {}, nil
  for _, block in ipairs(blocks) do
    if skipping and is_heading(block) and block.level <= skipping then skipping = nil end
    if not skipping and is_heading(block) and titles[pandoc.utils.stringify(block)] then
      skipping = block.level
    end
    if not skipping then table.insert(left, block) end
  end
  return left
end

-- A document's title becomes DESCRIPTION and its sections the page's
-- sections; inside an included section, its subsections become the page's
-- subsections.
local function fit_headings(blocks, top)
  for index, block in ipairs(blocks) do
    if is_heading(block) then
      if block.level == 1 and top == 0 then
        blocks[index] = pandoc.Header(1, "DESCRIPTION")
      else
        local level = block.level - math.max(top, 1)
        if level <= 1 then
          blocks[index] = pandoc.Header(1, pandoc.utils.stringify(block):upper())
        else
          blocks[index] = pandoc.Header(level, block.content)
        end
      end
    end
  end
  return blocks
end

local function include(div)
  local path = div.attributes["include"]
  if not path then return nil end
  local blocks, top = read_document(path), 0
  if div.attributes["section"] then
    blocks, top = section(blocks, div.attributes["section"])
  end
  if div.attributes["omit"] then
    local titles = {}
    for title in div.attributes["omit"]:gmatch("[^|]+") do titles[title] = true end
    blocks = omit(blocks, titles)
  end
  return fit_headings(blocks, top)
end

-- The installed programs are on the PATH: "build/bin/orvexctl" reads "orvexctl".
local function installed(element)
  element.text = (element.text:gsub("build/bin/", ""))
  return element
end

-- Inside a table cell "\|" is a "|" (pandoc keeps the backslash in code).
local function code(element)
  element.text = (element.text:gsub("build/bin/", ""):gsub("\\|", "|"))
  return element
end

-- The same in an example, keeping its comments in their column.
local function installed_example(block)
  local lines = {}
  for line in (block.text .. "\n"):gmatch("(.-)\n") do
    local text, removed = line:gsub("build/bin/", "")
    if removed > 0 then
      text = text:gsub("(%s%s+#)", function(gap) return string.rep(" ", 10 * removed) .. gap end, 1)
    end
    table.insert(lines, text)
  end
  block.text = table.concat(lines, "\n")
  return block
end

-- Pictures do not show on a terminal, and links to the other documents
-- would point into the source tree: keep their words only.
local function words_of_link(link)
  if link.target:match("^https?://") then return nil end
  return link.content
end

local function without_pictures(para)
  local kept = {}
  for _, inline in ipairs(para.content) do
    if inline.t ~= "Image" then table.insert(kept, inline) end
  end
  if #kept == 0 or pandoc.utils.stringify(kept):match("^%s*$") then return {} end
  para.content = kept
  return para
end

-- A table is too wide for a terminal's page: each row becomes a tagged
-- paragraph, its first cell the tag, the second the text, and any further
-- cell added as "heading: value" ("default: COM1"); a dash cell says nothing.
local function cell_inlines(cell)
  local inlines = {}
  for _, block in ipairs(cell.contents) do
    if block.content then
      if #inlines > 0 then table.insert(inlines, pandoc.Space()) end
      for _, inline in ipairs(block.content) do table.insert(inlines, inline) end
    end
  end
  return inlines
end

local function tagged_rows(tbl)
  local headings = {}
  if tbl.head and #tbl.head.rows > 0 then
    for index, cell in ipairs(tbl.head.rows[1].cells) do headings[index] = pandoc.utils.stringify(cell.contents) end
  end
  local items = {}
  for _, body in ipairs(tbl.bodies) do
    for _, row in ipairs(body.body) do
      local text = {}
      for index = 2, #row.cells do
        local inlines = cell_inlines(row.cells[index])
        if pandoc.utils.stringify(inlines) == "—" then inlines = {} end
        if index > 2 and #inlines > 0 then
          table.insert(text, pandoc.Str(";"))
          table.insert(text, pandoc.Space())
          if headings[index] and headings[index] ~= "" then
            table.insert(text, pandoc.Str(headings[index] .. ":"))
            table.insert(text, pandoc.Space())
          end
        end
        for _, inline in ipairs(inlines) do table.insert(text, inline) end
      end
      table.insert(items, { cell_inlines(row.cells[1]), { pandoc.Plain(text) } })
    end
  end
  return pandoc.DefinitionList(items)
end

-- Included text first, so the rest applies to it too.
return {
  { Div = include },
  { Str = installed, Code = code, CodeBlock = installed_example, Link = words_of_link, Para = without_pictures, Table = tagged_rows },
}
